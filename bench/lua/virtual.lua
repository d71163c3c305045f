local A = {}
A.__index = A
function A:value(x) return x + 1 end
local B = {}
B.__index = B
function B:value(x) return x + 2 end
local a, b = setmetatable({}, A), setmetatable({}, B)
local s = 0
for i = 0, 10000000 - 1 do
  local receiver = b
  if i % 2 == 1 then receiver = a end
  s = s + receiver:value(i)
end
assert(s > 0)
