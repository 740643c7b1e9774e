#pragma once
#include "app/ui_state.h"

// What a control does when released over, or pressed with Enter / Space / its key.
void activate(HitTarget control);
