// GUI tests start the toolkit once, run every test on its thread, and shut it down.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/image.h>
#include <wx/init.h>

#include <cstdio>

namespace {

class TestApp final : public wxApp {
  public:
    bool OnInit() override { return true; }
};

// A failed toolkit assertion fails the test instead of opening a dialog.
void fail_on_assert(const wxString& file, int line, const wxString& func, const wxString& cond,
                    const wxString& msg) {
    ADD_FAILURE_AT(file.utf8_str(), line) << "toolkit assertion in " << func.utf8_str() << ": "
                                          << cond.utf8_str() << " " << msg.utf8_str();
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    wxApp::SetInstance(new TestApp);
    if (!wxEntryStart(argc, argv)) {
        std::fprintf(stderr, "cannot start the toolkit (no display?)\n");
        return 2;
    }
    wxTheApp->CallOnInit();
    wxInitAllImageHandlers();
    wxSetAssertHandler(fail_on_assert);
    const int result = RUN_ALL_TESTS();
    wxTheApp->OnExit();
    wxEntryCleanup();
    return result;
}
