// The releases a report may name (report_key.h): every release published
// by a snapshot since the server started, and the ones `publish` kept
// beside a component (COMPONENT.previous), which agents that have not yet
// moved on still run.
#pragma once

#include <filesystem>

#include "server/observe/report_key.h"
#include "server/release_snapshot.h"

namespace mb::server {

// Adds what the snapshot publishes (component folders answering 200) and
// the releases kept beside them under root.
void LearnReleases(const ReleaseSnapshot& snapshot, const std::filesystem::path& root,
                   KnownReleases& known);

// The component word of a component folder key: "ORG/outlook/2003" -> "outlook".
std::string ComponentWordOf(const std::string& key);

}  // namespace mb::server
