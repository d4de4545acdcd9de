// The updater's progress dialog as the build compiles it.
#include "tests/unit/support/dialog_expect.h"

TEST(UpdaterResources, ProgressDialogIsExactlyItsTemplate) {
    // WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_MODALFRAME | DS_CENTER | DS_SETFONT | DS_FIXEDSYS;
    // no WS_SYSMENU, so no close box. The Cancel button is disabled.
    zrtest::ExpectDialog(101, "Updating Game Software", 0x90C008C8u, 187, 95,
                         {{2, "Button", "Cancel", 130, 74, 50, 14, 0x58010000u},
                          {1003, "Static", "Please Wait", 51, 24, 85, 8, 0x50020001u},
                          {1001, "msctls_progress32", "", 34, 42, 119, 14, 0x50800000u}});
}

TEST(UpdaterResources, ManifestAndIcon) {
    std::string manifest = zrtest::ProgramManifest();
    EXPECT_NE(manifest.find("name=\"Velmora.ZetaRune.UPD\" processorArchitecture=\"x86\" "
                            "version=\"1.0.0.0\" type=\"win32\""),
              std::string::npos)
        << manifest;
    EXPECT_NE(manifest.find("<description>Zeta Rune UPD</description>"), std::string::npos);
    EXPECT_NE(manifest.find("name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\""),
              std::string::npos);
    // Three images of 256 colours: 48, 32 and 16 pixels.
    EXPECT_EQ(zrtest::IconGroup(102),
              (std::vector<zrtest::IconImage>{{48, 48, 8}, {32, 32, 8}, {16, 16, 8}}));
}
