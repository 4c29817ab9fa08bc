// GUI tests start the toolkit once and run every test on its thread.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/init.h>

#include "picture/codec_loader.hpp"
#include "picture/vips_codec.hpp"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    // The libvips codec linked in, as the program loads it from its module.
    lumaweave::picture::use_codec(&lumaweave::picture::vips_codec());
    wxApp::SetInstance(new wxApp);
    if (!wxEntryStart(argc, argv)) return 2;  // no display
    // A failed toolkit assertion fails the test instead of opening a dialog.
    wxSetAssertHandler([](const wxString& file, int line, const wxString& func,
                          const wxString& cond, const wxString& msg) {
        ADD_FAILURE_AT(file.utf8_str(), line) << "toolkit assertion in " << func.utf8_str() << ": "
                                              << cond.utf8_str() << " " << msg.utf8_str();
    });
    const int result = RUN_ALL_TESTS();
    wxEntryCleanup();
    return result;
}
