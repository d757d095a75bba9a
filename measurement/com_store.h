// The COM database's store over a Profile: the section "Ports", each change saved
// at once. A change counts as saved when the profile reads it back.
#pragma once

#include <string>

#include "comlink/com_database.h"
#include "comlink/device_map.h"
#include "measurement/measurement.h"

inline ComStore ProfileComStore(Profile& profile) {
    ComStore store;
    store.read = [&profile](const std::string& key) {
        return profile.ReadString(kPortsSection, key, "");
    };
    store.write = [&profile](const std::string& key, const std::string& value) {
        profile.WriteString(kPortsSection, key, value);
        return profile.ReadString(kPortsSection, key, "") == value;
    };
    store.remove = [&profile](const std::string& key) {
        profile.RemoveKey(kPortsSection, key);
        return profile.ReadString(kPortsSection, key, "").empty();
    };
    return store;
}
