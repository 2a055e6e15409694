-- Recurses n levels deep with three arguments, mixing them on the way down and adding on the
-- way back up.
local function deep(n, a, b)
    if n == 0 then
        return a
    end
    return deep(n - 1, b, (a + b) % 1009) + a
end
return deep
