// Benchmarks call the cameras before any switch-on: they bind the simulated
// devices first, as the programs do at their switch-ons.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/camera_sdk/binding.h"
#include "platform/motion6k/binding.h"

inline void BindSimulatedDevices() {
    std::string refusal;
    if (!camera_sdk::BindLibrary(&refusal) || !motion6k::BindLibrary(&refusal)) {
        std::fprintf(stderr, "%s\n", refusal.c_str());
        std::exit(1);
    }
}
