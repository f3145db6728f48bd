// The simulated instrument as one: the simulated cameras look at the solar
// scene through the simulated scanner stage and grating.
#pragma once

namespace pelu {

// Gives the camera simulator the solar scene as its light, unless
// PELU_SIM_SCENE=spectrum asks for the plain slit spectrum. Call before the
// cameras are switched on.
void InstallSolarScene();

}  // namespace pelu
