-- Sums obj:get(i) for i from a to b; get is the engine's C++ method bound to the table.
local function calls(obj, a, b)
    local total = 0
    local i = a
    while i <= b do
        total = total + obj:get(i)
        i = i + 1
    end
    return total
end
return calls
