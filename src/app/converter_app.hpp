// The application object: runs the main dialog once and ends the program with it.
#pragma once

#include <wx/app.h>
#include <wx/cmdline.h>

#include <string>
#include <vector>

namespace lumaweave::app {

class ConverterApp : public wxApp {
  public:
    bool OnInit() override;
    int OnRun() override;
    void OnInitCmdLine(wxCmdLineParser& parser) override;
    bool OnCmdLineParsed(wxCmdLineParser& parser) override;

  private:
    std::vector<std::string> files_;  // named on the command line: the first drop
};

}  // namespace lumaweave::app
