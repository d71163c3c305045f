local x, i = 1.0, 0
while i < 1000000 do
  x = x * 1.5 * (2 / 3)
  i = i + 1
end
repeat
  x = x * 1.5
  x = x * (2 / 3)
  i = i - 1
until i <= 0
assert(math.floor(x + 0.5) == 1)
