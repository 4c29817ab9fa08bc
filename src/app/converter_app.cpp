#include "app/converter_app.hpp"

#include <wx/filename.h>

#include "app/converter_dialog.hpp"

namespace lumaweave::app {

bool ConverterApp::OnInit() {
    if (!wxApp::OnInit()) return false;
    SetAppDisplayName("lumaweave");
    return true;
}

int ConverterApp::OnRun() {
    // The dialog is the whole program: it runs modally and no main loop follows.
    ConverterDialog dialog;
    SetTopWindow(&dialog);
    dialog.run(files_);
    SetTopWindow(nullptr);
    return 0;
}

void ConverterApp::OnInitCmdLine(wxCmdLineParser& parser) {
    wxApp::OnInitCmdLine(parser);
    parser.AddParam("picture.bmp", wxCMD_LINE_VAL_STRING,
                    wxCMD_LINE_PARAM_OPTIONAL | wxCMD_LINE_PARAM_MULTIPLE);
}

bool ConverterApp::OnCmdLineParsed(wxCmdLineParser& parser) {
    if (!wxApp::OnCmdLineParsed(parser)) return false;
    for (size_t i = 0; i < parser.GetParamCount(); ++i) {
        // Full names, as a drop gives them.
        wxFileName name(parser.GetParam(i));
        name.MakeAbsolute();
        const wxCharBuffer bytes = name.GetFullPath().fn_str();
        files_.emplace_back(bytes.data() ? bytes.data() : "");
    }
    return true;
}

}  // namespace lumaweave::app
