-- Walks an n x n grid of (i, j): adds j where (i * j) % 5 < 2, else takes 1 away.
local function nested(n)
    local count = 0
    local i = 0
    while i < n do
        local j = 0
        while j < n do
            if (i * j) % 5 < 2 then
                count = count + j
            else
                count = count - 1
            end
            j = j + 1
        end
        i = i + 1
    end
    return count
end
return nested
