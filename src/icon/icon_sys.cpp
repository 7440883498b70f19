#include "icon/icon_sys.h"

namespace marrowin {

IconSysFields readIconSysFields(ByteView v, uint64_t off) {
    IconSysFields f;
    f.lineBreak = v.u16(addSaturating(off, DESCRIPTOR_LINE_BREAK_OFFSET));
    f.title = v.text(addSaturating(off, DESCRIPTOR_TITLE_OFFSET), DESCRIPTOR_TITLE_SIZE);
    for (int i = 0; i < 3; ++i)
        f.iconNames[i] =
            v.text(addSaturating(off, DESCRIPTOR_ICON_NAME_OFFSET + uint64_t(i) * DESCRIPTOR_TEXT_SIZE),
                   DESCRIPTOR_TEXT_SIZE);
    return f;
}

}  // namespace marrowin
