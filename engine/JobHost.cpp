#include "engine/JobHost.h"

#include <chrono>
#include <thread>

void TJobHost::BlockThread(int milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
