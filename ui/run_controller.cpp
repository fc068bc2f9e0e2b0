#include "ui/run_controller.h"

namespace dormal::ui {

void RunController::run(const RunInputs&, RunView&) {}

} // namespace dormal::ui
