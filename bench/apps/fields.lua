local c = {count = 0, total = 0}
local i = 0
while i < 5000000 do
  c.total = c.total + i
  i = i + 1
end

local Owner = {}
Owner.__index = Owner
function Owner:countDown(n)
  repeat
    self.counter.count = self.counter.count + n % 8
    n = n - 1
  until n <= 0
end
setmetatable({counter = c}, Owner):countDown(5000000)
assert(c.total == 12499997500000 and c.count == 17500000)
