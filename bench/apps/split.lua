local text = string.rep("word,", 209716)

local pieces = {}
for piece in text:gmatch("[^,]+") do pieces[#pieces + 1] = piece end
assert(#pieces == 209716)

local parts, from = {}, 1
while true do
  local at = text:find(",", from, true)
  if not at then break end
  if at > from then parts[#parts + 1] = text:sub(from, at - 1) end
  from = at + 1
end
if from <= #text then parts[#parts + 1] = text:sub(from) end
assert(#parts == 209716)
