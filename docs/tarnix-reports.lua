-- Wireshark/tshark dissector for run files: each packet block of link type USER0 holds whole
-- report packets of the module's TCP command channel, end to end, exactly as received. Every
-- report is shown field by field.
--
--   tshark -r run.pcapng -X lua_script:docs/tarnix-reports.lua -T fields -e tarnix.id -e tarnix.d0
--
-- or copy the file into Wireshark's personal plugins folder.

local tarnix = Proto("tarnix", "Tarnix module reports")

local f = {
    report = ProtoField.none("tarnix.report", "Report"),
    address = ProtoField.uint32("tarnix.address", "VME address", base.HEX),
    length = ProtoField.uint32("tarnix.length", "Length word", base.HEX),
    level = ProtoField.uint8("tarnix.level", "Priority level", base.DEC),
    polling = ProtoField.bool("tarnix.polling", "Polling (not interrupt)"),
    flow = ProtoField.uint16("tarnix.flow", "Flow ID", base.DEC),
    size = ProtoField.uint8("tarnix.size", "Data length (bytes)", base.DEC),
    mode = ProtoField.uint16("tarnix.mode", "Mode word", base.HEX),
    status = ProtoField.uint8("tarnix.status", "Status bits", base.HEX),
    vme_error = ProtoField.bool("tarnix.vme_error", "VME error"),
    param_error = ProtoField.bool("tarnix.param_error", "Parameter error"),
    id = ProtoField.uint8("tarnix.id", "ID", base.DEC),
    crc = ProtoField.uint8("tarnix.crc", "Header CRC-8", base.HEX),
    d0 = ProtoField.uint32("tarnix.d0", "First data item", base.DEC),
    item = ProtoField.uint32("tarnix.item", "Data item", base.DEC),
}
tarnix.fields = f

local band, rshift = bit32.band, bit32.rshift

-- Whether a report of this mode word carries data after its header.
local function has_data(mode)
    if band(mode, 0x8000) ~= 0 then
        return band(mode, 0x4000) ~= 0
    end
    return band(mode, 0x2000) == 0
end

local widths = { [0] = 1, [1] = 2, [2] = 4, [3] = 1 }

function tarnix.dissector(tvb, pinfo, tree)
    pinfo.cols.protocol = "TARNIX"
    local offset, reports = 0, 0
    local total = tvb:len()
    while offset + 12 <= total do
        local length = tvb(offset + 4, 4):uint()
        local mode = tvb(offset + 8, 2):uint()
        local size = has_data(mode) and band(length, 0xFF) or 0
        if offset + 12 + size > total then
            break
        end
        local t = tree:add(f.report, tvb(offset, 12 + size))
        t:add(f.address, tvb(offset, 4))
        t:add(f.length, tvb(offset + 4, 4))
        t:add(f.level, tvb(offset + 4, 1), rshift(length, 29))
        t:add(f.polling, tvb(offset + 4, 1), band(rshift(length, 28), 1) == 1)
        t:add(f.flow, tvb(offset + 5, 2), band(rshift(length, 16), 0xFFF))
        t:add(f.size, tvb(offset + 7, 1))
        t:add(f.mode, tvb(offset + 8, 2))
        t:add(f.status, tvb(offset + 9, 1), band(mode, 0xF))
        t:add(f.vme_error, tvb(offset + 9, 1), band(mode, 0x4) ~= 0)
        t:add(f.param_error, tvb(offset + 9, 1), band(mode, 0x1) ~= 0)
        t:add(f.id, tvb(offset + 10, 1))
        t:add(f.crc, tvb(offset + 11, 1))
        local width = widths[band(rshift(mode, 10), 3)]
        local items = math.floor(size / width)
        for i = 0, items - 1 do
            local item = tvb(offset + 12 + i * width, width)
            if i == 0 then
                t:add(f.d0, item)
            end
            t:add(f.item, item)
        end
        t:append_text(string.format(", ID %d, level %d, %s, %d items", tvb(offset + 10, 1):uint(),
            rshift(length, 29), band(rshift(length, 28), 1) == 1 and "polling" or "interrupt", items))
        offset = offset + 12 + size
        reports = reports + 1
    end
    pinfo.cols.info = string.format("%d reports", reports)
    if offset < total then
        tree:add_expert_info(PI_MALFORMED, PI_ERROR, string.format("%d bytes are not a whole report", total - offset))
    end
end

DissectorTable.get("wtap_encap"):add(wtap.USER0, tarnix)
