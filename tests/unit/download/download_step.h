// The download and write steps run in this process, as the main flow runs
// them, with the progress dialog open and the test mirror as the mirror.
#pragma once

#include "tests/unit/download/download_support.h"
#include "tests/unit/support/test_support.h"
#include "tests/unit/updater/loopback.h"
#include "upd/download/package_download.h"
#include "upd/download/progress_dialog.h"
#include "upd/download/unpack.h"
#include "upd/engine/update_state.h"
#include "upd/engine/version_data.h"
#include "upd/res/resource.h"

#include <gtest/gtest.h>

#include <memory>
#include <unistd.h>

namespace dltest {

struct DownloadStep : testing::Test {
    zrtest::TempRoot root;
    zrtest::TempDir work;
    ArchiveMaker maker{work.path()};
    std::string folder;
    std::unique_ptr<UpdateSession> session = std::make_unique<UpdateSession>();

    void SetUp() override {
        std::string why;
        if (!loopback::Enter(&why)) {
            GTEST_SKIP() << "no private network: " << why;
        }
        ASSERT_TRUE(LoadUnrarLibrary());
        folder = root.Host("C:\\Games\\Zeta Rune");
        zrtest::MakeDirs(folder);
        ASSERT_EQ(chdir(folder.c_str()), 0);
        updateOk = 1;
        progressDialog = CreateDialogParamA(nullptr, MAKEINTRESOURCEA(IDD_PROGRESS),
                                            GetDesktopWindow(), ProgressDialogProc, 0);
        ASSERT_NE(progressDialog, nullptr);
        progressBar = GetDlgItem(progressDialog, IDC_PROGRESS_BAR);
        statusText = GetDlgItem(progressDialog, IDC_STATUS_TEXT);
        InitNameLists(*session);
    }

    void TearDown() override {
        if (progressDialog) {
            DestroyWindow(progressDialog);
            progressDialog = nullptr;
        }
    }

    // Fetches `names` from the test mirror and runs the write step; what
    // the dialog drew on standard error.
    std::string Download(const std::vector<std::string>& names) {
        for (const auto& name : names) {
            EXPECT_TRUE(AddPendingName(*session, name.c_str()));
        }
        char mirror[] = "127.0.0.3/pkgs/";
        PrepareMirror(mirror, *session);
        testing::internal::CaptureStderr();
        DownloadPackages(*session);
        WriteUnpackedFiles(*session);
        return testing::internal::GetCapturedStderr();
    }
};

} // namespace dltest
