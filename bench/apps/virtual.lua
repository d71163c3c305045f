local A = {}
A.__index = A
function A:value(x) return x + 1 end
local B = {}
B.__index = B
function B:value(x) return x + 2 end

local a, b = setmetatable({}, A), setmetatable({}, B)
local s, i = 0, 0
while i < 10000000 do
  local receiver = b
  if i % 2 == 1 then receiver = a end
  s = s + receiver:value(i)
  i = i + 1
end
local pair = {b, a}
i = 10000000
repeat
  s = s + pair[1 + i % 2]:value(i)
  i = i - 1
until i <= 0
assert(s == 100000030000000)
