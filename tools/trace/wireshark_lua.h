// The code of the Lua dissector tranpak-trace --wireshark writes: the same
// for every dialect and definition file, driven by the tables the
// generator writes before it (DIALECT, SEED, FIELDS, CARD_FIELDS, PORT,
// CHARSETS; wireshark.cpp). Wireshark's Lua is 5.2: bit32, no integers.
#ifndef TRANPAK_TOOLS_WIRESHARK_LUA_H
#define TRANPAK_TOOLS_WIRESHARK_LUA_H

namespace tranpak::tools {

inline constexpr const char kDissectorCode[] = R"LUA(
local byte, char, fmt, concat = string.byte, string.char, string.format, table.concat
local band, rshift = bit32.band, bit32.rshift
local floor = math.floor

local proto = Proto("tranpak", "tranpak frames")
local pf = {
    start = ProtoField.uint8("tranpak.start", "Start", base.HEX),
    stop = ProtoField.uint8("tranpak.stop", "Stop", base.HEX),
    length = ProtoField.uint32("tranpak.length", "Length"),
    header = ProtoField.bytes("tranpak.header", "Header"),
    mti = ProtoField.string("tranpak.mti", "Message type"),
    bitmap = ProtoField.string("tranpak.bitmap", "Primary bitmap"),
    bitmap2 = ProtoField.string("tranpak.bitmap2", "Secondary bitmap"),
    mac_field = ProtoField.uint8("tranpak.mac_field", "MAC carried by field"),
    prefix = ProtoField.uint32("tranpak.prefix", "Length prefix"),
    file_type = ProtoField.string("tranpak.file.type", "File frame type"),
    file_length = ProtoField.uint16("tranpak.file.length", "Body length"),
    file_request = ProtoField.string("tranpak.file.request", "Request"),
    file_data = ProtoField.bytes("tranpak.file.data", "Data"),
}
local field_pf = {}
local all_pf = {}
for _, f in pairs(pf) do all_pf[#all_pf + 1] = f end
for n = 1, 128 do
    local def = FIELDS[n]
    field_pf[n] = ProtoField.string("tranpak.field." .. n, def and fmt("Field %d %s", n, def[1]) or ("Field " .. n))
    all_pf[#all_pf + 1] = field_pf[n]
end
proto.fields = all_pf
local broken = ProtoExpert.new("tranpak.broken", "Broken tranpak frame", expert.group.MALFORMED, expert.severity.ERROR)
proto.experts = {broken}
proto.prefs.show_card_data = Pref.bool("Show card data", false,
    "Show the card-data fields (" .. concat(CARD_FIELDS, ", ") .. ") in clear instead of masked")

local is_card = {}
for _, n in ipairs(CARD_FIELDS) do is_card[n] = true end

-- A fault of a frame: stops its decoding with the text, at a frame offset.
local Fault = {}
local function fault(text, ...)
    error(setmetatable({text = fmt(text, ...)}, Fault), 0)
end

-- Values as TpDescribe shows them ----------------------------------------

local function escaped(v)
    return (v:gsub("[\0-\31\\\127-\255]", function(c)
        if c == "\\" then return "\\\\" end
        return fmt("\\x%02X", byte(c))
    end))
end

local function masked(v)
    if #v <= 4 then return string.rep("*", #v) end
    return string.rep("*", #v - 4) .. v:sub(-4)
end

-- An NI value: a decimal integer when it is one of 32 bits, else as received.
local function integer_text(v)
    local sign, digits = v:match("^([+-]?)(%d+)")
    if not digits then return v end
    local n = tonumber(digits)
    if n > (sign == "-" and 2147483648 or 2147483647) then return v end
    if sign == "-" and n ~= 0 then return "-" .. fmt("%.0f", n) end
    return fmt("%.0f", n)
end

-- An NF value: hundredths with a point and two decimals, else as received.
local function amount_text(v)
    local sign, digits = v:match("^([+-]?)(%d+)$")
    if not digits then return v end
    digits = digits:gsub("^0+", "")
    local width = #digits > 2 and #digits or 3
    local padded = string.rep("0", width - #digits) .. digits
    return ((sign == "-" and #digits > 0) and "-" or "") .. padded:sub(1, -3) .. "." .. padded:sub(-2)
end

local function hex(s)
    return (s:gsub(".", function(c) return fmt("%02X", byte(c)) end))
end

local function shown(n, def, stored, show_card)
    local t = def[2]
    local v = stored
    if t == "NI" then v = integer_text(stored)
    elseif t == "NF" then v = amount_text(stored) end
    if is_card[n] and not show_card then v = masked(v) end
    return escaped(v)
end

-- Reading a frame --------------------------------------------------------

local LENGTH_SIZE = {ASCII4 = 4, BINARY2 = 2, BINARY2LE = 2, BINARY4 = 4, BCD2 = 2, HEX4 = 4, NONE = 0}

-- The ASCII code of a byte in a charset, nil when it has none.
local function decode(charset, b)
    local t = CHARSETS[charset]
    if t == nil then return b end
    return t[b]
end

-- A frame in the string s from its offset base (0-based offsets).
local Frame = {}
Frame.__index = Frame

function Frame:byte(at) return byte(self.s, self.base + at + 1) end
function Frame:sub(at, n) return self.s:sub(self.base + at + 1, self.base + at + n) end

-- Characters of the charset into ASCII text; a fault at one outside it.
function Frame:chars(at, n, charset, what)
    if CHARSETS[charset] == nil then
        local v = self:sub(at, n)
        local nul = v:find("\0", 1, true)
        if nul then fault("%s: a NUL byte at offset %d", what, at + nul - 1) end
        return v
    end
    local out = {}
    for k = 0, n - 1 do
        local b = self:byte(at + k)
        local c = decode(charset, b)
        if c == nil or c == 0 then fault("%s: byte 0x%02X at offset %d is no %s character", what, b, at + k, charset) end
        out[k + 1] = char(c)
    end
    return concat(out)
end

function Frame:need(what, at, n)
    if at >= self.limit then fault("%s: bit set, no data at offset %d", what, at) end
    if at + n > self.limit then
        fault("%s: needs %d bytes at offset %d, %d are left", what, n, at, self.limit - at)
    end
end

local function hex_value(c)
    return tonumber(c, 16)
end

-- Hexadecimal characters of the charset (2 * n) into n bytes' hex text.
function Frame:hex_chars(at, n, charset, what)
    local out = {}
    for k = 0, 2 * n - 1 do
        local b = self:byte(at + k)
        local c = decode(charset, b)
        if c == nil or hex_value(char(c)) == nil then
            fault("%s: byte 0x%02X at offset %d is no hexadecimal digit", what, b, at + k)
        end
        out[k + 1] = char(c):upper()
    end
    return concat(out)
end

-- n BCD digits (an odd count led by a 0 nibble); track: the nibble D is '=';
-- number: a first nibble C or D is the sign.
function Frame:bcd(at, n, content, what)
    local pad = n % 2
    if pad == 1 and rshift(self:byte(at), 4) ~= 0 then
        fault("%s: %d digits, the pad nibble %X at offset %d is not 0", what, n, rshift(self:byte(at), 4), at)
    end
    local out = {}
    for k = pad, n + pad - 1 do
        local b = self:byte(at + floor(k / 2))
        local nibble = k % 2 == 0 and rshift(b, 4) or band(b, 15)
        local c
        if nibble <= 9 then c = char(48 + nibble)
        elseif content == "track" and nibble == 13 then c = "="
        elseif content == "number" and k == pad and (nibble == 12 or nibble == 13) then
            c = nibble == 12 and "+" or "-"
        else fault("%s: BCD nibble %X at offset %d", what, nibble, at + floor(k / 2)) end
        out[#out + 1] = c
    end
    return concat(out)
end

local CONTENT = {N = "number", NI = "number", NF = "number", Z = "track", B = "binary"}

-- Field n at offset at: its prefix and value, added to tree; the offset after it.
function Frame:field(n, at, tree)
    local d, def = self.d, FIELDS[n]
    local what = "field " .. n
    if def == nil then fault("%s: bit set at offset %d, the definitions have no field %d", what, at, n) end
    local name, t, max, digits = def[1], def[2], def[3], def[4]
    local content = CONTENT[t] or "text"
    local packed = d.numbers == "BCD" and (content == "number" or content == "track")
    local count, psize = max, 0
    if digits > 0 then
        psize = d.prefix == "TEXT" and digits or floor((digits + 1) / 2)
        self:need(what, at, psize)
        local v = 0
        for k = 0, psize - 1 do
            local b = self:byte(at + k)
            if d.prefix == "TEXT" then
                local c = decode(d.charset, b)
                if c == nil or c < 48 or c > 57 then fault("%s: the length prefix at offset %d is no number", what, at) end
                v = v * 10 + c - 48
            elseif d.prefix == "BCD" then
                local hi, lo = rshift(b, 4), band(b, 15)
                if hi > 9 or lo > 9 then fault("%s: BCD nibble %X at offset %d", what, hi > 9 and hi or lo, at + k) end
                v = v * 100 + hi * 10 + lo
            else
                v = v * 256 + b
            end
        end
        if v > max then fault("%s: the length prefix at offset %d says %d, the field holds %d", what, at, v, max) end
        count = v
    end
    local size = count
    if content == "binary" then size = d.binary == "HEX" and 2 * count or count
    elseif packed then size = floor((count + 1) / 2) end
    self:need(what, at + psize, size)
    local vat = at + psize
    local stored
    if content == "binary" then
        stored = d.binary == "HEX" and self:hex_chars(vat, count, d.charset, what) or hex(self:sub(vat, count))
    elseif packed then
        stored = self:bcd(vat, count, content, what)
    else
        stored = self:chars(vat, count, d.charset, what)
    end
    local value = shown(n, def, stored, self.show_card)
    local label = fmt("%d %s %s%s: %s", n, name, t, n == self.mac_field and " (MAC)" or "", value)
    local item = tree:add(field_pf[n], self.tvb:range(self.base + at, psize + size), value)
    item:set_text(label)
    if psize > 0 then item:add(pf.prefix, self.tvb:range(self.base + at, psize), count) end
    self.values[n] = value
    return vat + size
end

function Frame:mti(at, tree)
    local d = self.d
    local mti
    if d.mti == "BCD" then
        mti = self:bcd(at, 4, "digits", "field 0 (message type)")
        at = at + 2
    else
        local charset = d.mti == "EBCDIC" and (d.charset == "ASCII" and "EBCDIC037" or d.charset) or "ASCII"
        mti = self:chars(at, 4, charset, "field 0 (message type)")
        at = at + 4
    end
    tree:add(pf.mti, self.tvb:range(self.base + at - (d.mti == "BCD" and 2 or 4), d.mti == "BCD" and 2 or 4),
        escaped(mti))
    self.type = escaped(mti)
    return at
end

function Frame:bitmap(at, tree, which)
    local d = self.d
    local text
    if d.bitmap == "HEX" then
        text = self:hex_chars(at, 8, d.charset, "bitmap")
    else
        text = hex(self:sub(at, 8))
    end
    local size = d.bitmap == "HEX" and 16 or 8
    tree:add(which == 1 and pf.bitmap or pf.bitmap2, self.tvb:range(self.base + at, size), text)
    return at + size, text
end

-- The bit numbers set in a bitmap's hex text, each plus base.
local function bits(text, base)
    local out = {}
    for k = 1, 16 do
        local v = tonumber(text:sub(k, k), 16)
        for j = 3, 0, -1 do
            if band(v, 2 ^ j) ~= 0 then out[#out + 1] = base + (k - 1) * 4 + (3 - j) + 1 end
        end
    end
    return out
end

-- The type, the bitmaps and the fields from offset at to the body's end.
function Frame:body(at, tree)
    local d = self.d
    local least = (d.mti == "BCD" and 2 or 4) + (d.bitmap == "HEX" and 16 or 8)
    if self.limit - at < least then
        fault("the type and bitmap need %d bytes at offset %d, the length leaves %d", least, at, self.limit - at)
    end
    at = self:mti(at, tree)
    local map1, map2
    at, map1 = self:bitmap(at, tree, 1)
    local first = bits(map1, 0)
    local secondary = first[1] == 1 and not FIELD1_IS_DATA
    local second = {}
    if secondary then
        if self.limit - at < (d.bitmap == "HEX" and 16 or 8) then
            fault("the secondary bitmap at offset %d is cut short (%d bytes)", at, self.limit - at)
        end
        at, map2 = self:bitmap(at, tree, 2)
        second = bits(map2, 64)
        table.remove(first, 1)
    end
    self.mac_field = #second > 0 and 128 or 64
    tree:add(pf.mac_field, self.mac_field):set_generated()
    for _, list in ipairs({first, second}) do
        for _, n in ipairs(list) do at = self:field(n, at, tree) end
    end
    if at ~= self.limit then fault("the fields end at offset %d, the length says %d", at, self.limit) end
end

-- The value of a length's bytes at offset i of s (1-based), nil when none.
local function read_length(d, s, i)
    local b1, b2, b3, b4 = byte(s, i, i + 3)
    local l = d.length
    if l == "BINARY2" then return b1 * 256 + b2
    elseif l == "BINARY2LE" then return b2 * 256 + b1
    elseif l == "BINARY4" then return ((b1 * 256 + b2) * 256 + b3) * 256 + b4
    elseif l == "BCD2" then
        local t = fmt("%02X%02X", b1, b2)
        return t:match("^%d+$") and tonumber(t) or nil
    elseif l == "HEX4" then
        local t = s:sub(i, i + 3)
        return t:match("^%x%x%x%x$") and tonumber(t, 16) or nil
    end
    local t = s:sub(i, i + 3)
    return t:match("^%d%d%d%d$") and tonumber(t) or nil
end

local FILE_TYPES = {["0"] = "send request", ["1"] = "fetch request", ["2"] = "data", ["3"] = "refused", ["4"] = "end"}
local FILE_BODY_MAX = 1024

-- What starts at offset off of s (n bytes held): "file" or "message" with the
-- frame's size, "more" with the bytes still missing (nil: unknown), or "bad"
-- with the fault.
local function scan(d, s, off, n)
    local avail = n - off
    local b = byte(s, off + 1)
    if b == 6 and (d.envelope == "STXETX" or avail < 2 or FILE_TYPES[s:sub(off + 2, off + 2)]) then
        if avail < 6 then return "more", nil end
        local t = s:sub(off + 2, off + 2)
        if not FILE_TYPES[t] then return "bad", fmt("file frame: type 0x%02X at offset 1 is none of 0 to 4", byte(t)) end
        local digits = s:sub(off + 3, off + 6)
        if not digits:match("^%d%d%d%d$") then return "bad", "file frame: the length at offset 2 is not four digits" end
        local len = tonumber(digits)
        if len > FILE_BODY_MAX then return "bad", fmt("file frame: a body of %d bytes, above %d", len, FILE_BODY_MAX) end
        if avail < 6 + len then return "more", 6 + len - avail end
        return "file", 6 + len
    end
    local lat = d.envelope == "STXETX" and 1 or 0
    local lsize = LENGTH_SIZE[d.length]
    if lat == 1 and b ~= 2 then return "bad", fmt("frame: byte 0x%02X at offset 0 starts no frame", b) end
    if lsize == 0 then return "message", avail, avail - d.head - d.tail end
    if avail < lat + lsize then return "more", nil end
    local value = read_length(d, s, off + lat + 1)
    if value == nil then return "bad", fmt("frame: the length at offset %d is no %s length", lat, d.length) end
    local body = value - (d.counts == "HEADER" and d.header_len or d.counts == "ALL" and d.header_len + lsize or 0)
    if body < d.min_body then return "bad", fmt("frame: the length at offset %d says %d, too short", lat, value) end
    if body > d.max_body then return "bad", fmt("frame: the length at offset %d says %d, too long", lat, value) end
    local size = d.head + body + d.tail
    if avail < size then return "more", size - avail end
    if lat == 1 and byte(s, off + size) ~= 3 then
        return "bad", fmt("frame: the length at offset 1 says %d bytes, offset %d holds 0x%02X, not 03", value,
            size - 1, byte(s, off + size))
    end
    return "message", size, body
end

local function broken_item(tree, tvb, at, size, text)
    local item = tree:add(proto, tvb:range(at, size), "tranpak, broken: " .. text)
    item:add_proto_expert_info(broken, text)
end

-- One message frame of size bytes at off: the tree, and its column text.
local function message(d, tvb, s, off, size, body, tree)
    local f = setmetatable({d = d, s = s, base = off, tvb = tvb, values = {},
        show_card = proto.prefs.show_card_data}, Frame)
    local st = tree:add(proto, tvb:range(off, size), "tranpak message")
    local at = 0
    if d.envelope == "STXETX" then
        st:add(pf.start, tvb:range(off, 1))
        at = 1
    end
    local lsize = LENGTH_SIZE[d.length]
    if lsize > 0 then
        st:add(pf.length, tvb:range(off + at, lsize), read_length(d, s, off + at + 1))
        at = at + lsize
    end
    f.limit = d.head + body
    local ok, err = pcall(function()
        if d.header_len > 0 then
            st:add(pf.header, tvb:range(off + at, d.header_len))
            local got = f:sub(at, d.header_len)
            local same = d.header == "TPDU" and got:sub(1, 1) == d.header_bytes:sub(1, 1) or got == d.header_bytes
            if not same then
                local spaced = function(v) return (hex(v):gsub("..", "%0 "):sub(1, -2)) end
                fault("header at offset %d is %s, expected %s", at, spaced(got), spaced(d.header_bytes))
            end
            at = at + d.header_len
        end
        f:body(at, st)
    end)
    if d.envelope == "STXETX" then st:add(pf.stop, tvb:range(off + size - 1, 1)) end
    local info = f.type or "?"
    if f.type and f.type:match("^%d%d[13579]") and f.values[39] then info = info .. " response " .. f.values[39] end
    st:set_text(fmt("tranpak message %s, %d bytes", f.type or "?", size))
    if not ok then
        local text = getmetatable(err) == Fault and err.text or ("decoder: " .. tostring(err))
        st:add_proto_expert_info(broken, text)
        info = info .. " [broken: " .. text .. "]"
    end
    return info
end

local function file_frame(tvb, s, off, size, tree)
    local t = s:sub(off + 2, off + 2)
    local len = size - 6
    local st = tree:add(proto, tvb:range(off, size), fmt("tranpak file frame, %s, %d bytes", FILE_TYPES[t], len))
    st:add(pf.start, tvb:range(off, 1))
    st:add(pf.file_type, tvb:range(off + 1, 1), t .. " " .. FILE_TYPES[t])
    st:add(pf.file_length, tvb:range(off + 2, 4), len)
    local info = "file " .. FILE_TYPES[t]
    if len > 0 and (t == "0" or t == "1") then
        local request = escaped(s:sub(off + 7, off + 6 + len))
        st:add(pf.file_request, tvb:range(off + 6, len), request)
        info = info .. " " .. request
    elseif len > 0 then
        st:add(pf.file_data, tvb:range(off + 6, len))
        info = info .. fmt(", %d bytes", len)
    end
    return info
end

-- Where the next frame may start after a fault at off: a start byte whose
-- frame does not break at once (only a frame with a start byte can be found).
local function resync(d, s, off, n)
    for at = off + 1, n - 1 do
        local b = byte(s, at + 1)
        if (b == 2 and d.envelope == "STXETX") or b == 6 then
            local kind = scan(d, s, at, n)
            if kind ~= "bad" then return at end
        end
    end
    return n
end

local last_info = nil

-- Every frame of a TCP segment (or of frames reassembled): a frame cut short
-- asks for more, a broken one is marked and the next one decoded.
local function dissect(d, tvb, pinfo, tree)
    local n = tvb:len()
    local s = tvb:raw(0, n)
    local off = 0
    local infos = {}
    while off < n do
        local kind, a, b = scan(d, s, off, n)
        if kind == "more" then
            -- One more segment rather than the bytes the length asks for: a
            -- length that says too much then still leaves the next frame whole.
            pinfo.desegment_offset = off
            pinfo.desegment_len = DESEGMENT_ONE_MORE_SEGMENT
            break
        elseif kind == "bad" then
            local next_at = resync(d, s, off, n)
            broken_item(tree, tvb, off, next_at - off, a)
            infos[#infos + 1] = "[broken: " .. a .. "]"
            off = next_at
        elseif kind == "file" then
            infos[#infos + 1] = file_frame(tvb, s, off, a, tree)
            off = off + a
        else
            infos[#infos + 1] = message(d, tvb, s, off, a, b, tree)
            off = off + a
        end
    end
    pinfo.cols.protocol = "TRANPAK"
    if #infos > 0 then
        -- A packet's second call (after a frame reassembled) adds to the first's text.
        local text = concat(infos, ", ")
        if tostring(pinfo.cols.info) == last_info then text = ", " .. text end
        pinfo.cols.info = text
        last_info = tostring(pinfo.cols.info)
    end
    return n
end

function proto.dissector(tvb, pinfo, tree)
    return dissect(DIALECT, tvb, pinfo, tree)
end

-- The seed's frames on any port: STX, four digits, ETX at the stated length;
-- or a file frame's 06, type and four digits. A segment that holds only the
-- start of one is taken when what it holds agrees.
local function heuristic(tvb, pinfo, tree)
    local n = tvb:len()
    if n < 1 then return false end
    local s = tvb:raw(0, n < 2060 and n or 2060)
    local first = byte(s, 1)
    if first ~= 2 and first ~= 6 then return false end
    local head = first == 2 and s:sub(2, 5) or s:sub(3, 6)
    if not head:match("^%d*$") or (first == 6 and #s >= 2 and not FILE_TYPES[s:sub(2, 2)]) then return false end
    if scan(SEED, s, 0, #s) == "bad" then return false end
    dissect(SEED, tvb, pinfo, tree)
    if DIALECT_IS_SEED then pinfo.conversation = proto end
    return true
end

local tcp_port = DissectorTable.get("tcp.port")
tcp_port:add_for_decode_as(proto)
if PORT > 0 then tcp_port:add(PORT, proto) end
proto:register_heuristic("tcp", heuristic)
)LUA";

}  // namespace tranpak::tools

#endif
