// The string's exchange with the platform: string resources and message boxes.
#include "scratch_buffer.h"
#include "text_string.h"

namespace {

// The platform cuts a longer resource text to this size less its terminator.
const std::uint32_t kResourceTextSize = 1024;

} // namespace

bool TextString::LoadResourceText(UINT resourceId, HINSTANCE instance) {
    ScratchBuffer buffer(kResourceTextSize);
    const int copied =
        LoadStringA(instance, resourceId, buffer.GetBlock(), static_cast<int>(buffer.GetSize()));
    if (copied <= 0)
        return false;
    Assign(buffer.GetBlock());
    return true;
}

void TextString::ShowInMessageBox() const {
    MessageBoxA(GetActiveWindow(), data_, "Output", MB_ICONINFORMATION);
}
