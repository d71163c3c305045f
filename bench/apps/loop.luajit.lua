local band = bit.band
local s, mask = 0, 0xFFFFFF
for i = 0, 50000000 - 1 do
  s = band(s + i, mask)
end
local i = 50000000
repeat
  s = band(s + i, mask)
  i = i - 1
until i <= 0
assert(s == 15745024)
