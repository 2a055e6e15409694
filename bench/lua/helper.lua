-- The other script that calls.lua calls into.
local function helper(x)
    return x % 13 + 1
end
return helper
