-- Sums i % 7 for i from a to b with a compare and a conditional jump per iteration, as the
-- machine's loop does.
local function sum(a, b)
    local total = 0
    local i = a
    while i <= b do
        total = total + i % 7
        i = i + 1
    end
    return total
end
return sum
