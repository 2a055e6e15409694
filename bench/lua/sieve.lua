-- Sieve of Eratosthenes over one large array kept between calls: marks every index below n,
-- strikes the multiples of each prime from its double on, and counts the primes.
local data = {}
local function sieve(n)
    local flags = data
    local i = 0
    while i < n do
        flags[i] = 1
        i = i + 1
    end
    local count = 0
    i = 2
    while i < n do
        if flags[i] == 1 then
            count = count + 1
            local j = i + i
            while j < n do
                flags[j] = 0
                j = j + i
            end
        end
        i = i + 1
    end
    return count
end
return sieve
