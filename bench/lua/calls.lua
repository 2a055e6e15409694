-- Sums scale(i) + helper(i) for i from a to b: scale is the engine's C++ function, helper a
-- function of another script (helper.lua); both are handed in once.
return function(scale, helper)
    return function(a, b)
        local total = 0
        local i = a
        while i <= b do
            total = total + scale(i) + helper(i)
            i = i + 1
        end
        return total
    end
end
