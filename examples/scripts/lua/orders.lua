-- Example scripts for the OrderSizes template (Lua). Every file of the script directory is
-- loaded as one program; the template's "run" list names the procedures.

-- Orders of this total or more count as large.
local LARGE_ORDER = 100

-- Fills the "Size" variable from the extracted total, before the line is written.
function ClassifyOrder()
  local total = tonumber(Template:GetValueByName("Total")) or 0
  Template:SetValueByName("Size", total >= LARGE_ORDER and "large" or "small")
end

-- Notes every large order in a file of its own, next to the output file.
function NoteLargeOrder()
  if Template:GetValueByName("Size") ~= "large" then return end
  local f = assert(io.open("large-orders.txt", "a"))
  f:write("Order ", Template:GetValueByName("OrderNo"), " from ", Template:GetValueByName("Customer"),
          ": ", Template:GetValueByName("Total"), " EUR\r\n")
  f:close()
end
