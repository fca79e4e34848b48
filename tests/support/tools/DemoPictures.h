#pragma once

// Small real pictures for the demo gallery, drawn at run time: no picture files in the tree.

#include <string>

namespace demo {

// A 320 x 240 JPEG of a simple landscape (sky, sun, hills, water), different for every scene
// number and the same on every run.
std::string ScenePicture(int scene);

} // namespace demo
