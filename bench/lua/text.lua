-- Makes "item" .. i anew for i from a to b; answers the last text.
local function build(a, b)
    local text = ""
    local i = a
    while i <= b do
        text = "item" .. i
        i = i + 1
    end
    return text
end
return build
