// Device instances of the system's device list (setupapi.dll) for tests of
// the device removal: made with a chosen description, found, and removed.
#pragma once

#include <string>
#include <vector>

namespace device_instances {

// A new root-enumerated instance of the sound device class whose
// description is `description`; false (with a failure added) when the system
// refused it.
bool Create(const std::string& description);

// The descriptions of every device instance, in the order the walk over all
// classes (present or not) meets them; devices without a description are
// left out.
std::vector<std::string> Descriptions();

// Instances whose description is exactly `description` (letter case too).
int Count(const std::string& description);

// Removes every instance whose description equals `description` ignoring
// letter case, such as leftovers of a failed test; returns how many went.
int RemoveAll(const std::string& description);

// Removes the leftovers of `descriptions` now and again when it goes.
class Cleanup {
public:
    explicit Cleanup(std::vector<std::string> descriptions);
    ~Cleanup();
    Cleanup(const Cleanup&) = delete;
    Cleanup& operator=(const Cleanup&) = delete;

private:
    std::vector<std::string> descriptions_;
};

}  // namespace device_instances
