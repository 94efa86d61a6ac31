#include "host/smd_controller.h"

SMDController::~SMDController() = default;
