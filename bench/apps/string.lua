local parts = {}
local i = 0
while i < 50000 do
  parts[#parts + 1] = string.char(97 + i % 26)
  i = i + 1
end
repeat
  parts[#parts + 1] = "z"
  i = i - 1
until i <= 0
local s = table.concat(parts)
assert(#s == 100000)
