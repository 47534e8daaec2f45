#include "lead_bytes.h"

#include "platform/win32_api.h"

namespace {

struct LeadByteTable {
    bool leads[256];
    LeadByteTable() {
        for (unsigned byte = 0; byte < 256; ++byte)
            leads[byte] = IsDBCSLeadByte(static_cast<BYTE>(byte)) != FALSE;
    }
};

} // namespace

bool IsLeadByte(unsigned char byte) {
    static const LeadByteTable table;
    return table.leads[byte];
}
