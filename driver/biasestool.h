#pragma once

#include "driver/parametertool.h"
#include "driver/simulatedscene.h"

namespace vexadin {

class BiasesTool : public ParameterTool {
public:
    BiasesTool();
    PixelModelSettings settings() const; // the pixel model these biases give
};

} // namespace vexadin
