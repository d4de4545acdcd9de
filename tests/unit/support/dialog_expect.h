// Checks a dialog template of the running program's resources against the
// values it must carry, control by control.
#pragma once

#include "compat/compat.h"
#include "compat/resources.h"

#include <gtest/gtest.h>
#include <strings.h>
#include <string>
#include <vector>

namespace zrtest {

struct ExpectedControl {
    int id;
    const char* className;
    const char* text;
    int x, y, cx, cy;
    unsigned style;
};

inline void ExpectDialog(int id, const char* title, unsigned style, int cx, int cy,
                         const std::vector<ExpectedControl>& controls) {
    compat::DialogTemplate t;
    ASSERT_TRUE(compat::LoadDialogTemplate(id, t));
    EXPECT_EQ(t.title, title);
    EXPECT_EQ(t.style, style) << std::hex << t.style;
    EXPECT_EQ(t.exStyle, 0u);
    EXPECT_EQ(t.language, 1033);
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, cx);
    EXPECT_EQ(t.cy, cy);
    EXPECT_EQ(t.font, "MS Shell Dlg");
    EXPECT_EQ(t.pointSize, 8);
    EXPECT_EQ(t.weight, 400);
    EXPECT_EQ(t.italic, 0);
    EXPECT_EQ(t.charset, 1);
    ASSERT_EQ(t.items.size(), controls.size());
    for (size_t i = 0; i < controls.size(); ++i) {
        const auto& got = t.items[i];
        const auto& want = controls[i];
        SCOPED_TRACE("control " + std::to_string(i));
        EXPECT_EQ(got.id, want.id);
        // Window classes compare without regard to case (windres writes the
        // custom class in capitals).
        EXPECT_EQ(strcasecmp(got.className.c_str(), want.className), 0) << got.className;
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
        EXPECT_EQ(got.style, want.style) << std::hex << got.style;
        EXPECT_EQ(got.exStyle, 0u);
    }
}

} // namespace zrtest

namespace zrtest {

// The running program's manifest (type 24, id 1) as text.
inline std::string ProgramManifest() {
    const auto& blob = compat::Resources();
    const unsigned char* data;
    size_t length;
    if (!compat::FindResourceData(blob.data, blob.size, 24, 1, &data, &length, nullptr)) {
        return std::string();
    }
    return std::string(reinterpret_cast<const char*>(data), length);
}

// The images of icon group `id`: width, height and bits per pixel of each.
struct IconImage {
    int width, height, bits;
    bool operator==(const IconImage& o) const {
        return width == o.width && height == o.height && bits == o.bits;
    }
};
inline std::vector<IconImage> IconGroup(int id) {
    const auto& blob = compat::Resources();
    const unsigned char* d;
    size_t length;
    std::vector<IconImage> images;
    if (!compat::FindResourceData(blob.data, blob.size, 14, id, &d, &length, nullptr) ||
        length < 6) {
        return images;
    }
    int count = d[4] | (d[5] << 8);
    for (int i = 0; i < count && 6 + 14 * (i + 1) <= static_cast<int>(length); ++i) {
        const unsigned char* e = d + 6 + 14 * i;
        images.push_back({e[0] ? e[0] : 256, e[1] ? e[1] : 256, e[6] | (e[7] << 8)});
    }
    return images;
}

} // namespace zrtest
