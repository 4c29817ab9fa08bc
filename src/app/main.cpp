// lumaweave: the desktop converter.
#include "app/converter_app.hpp"

wxIMPLEMENT_APP(lumaweave::app::ConverterApp);
