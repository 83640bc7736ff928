// The one application object of the launcher executable.

#include "app/tarvo_app.h"

namespace {

tarvo::CTarvoApp theApp;

}  // namespace
