// A summary of the hardware monitor's status: asked from vigild over its
// message port "vigildPort" when it runs, with a short wait so a hung
// daemon cannot hold up the profile.
#pragma once

#include "machreport/FileTree.h"
#include "machreport/Profile.h"
#include "platform/PropertyValue.h"

namespace steward::machreport {

// The port's directory is the tree's /var/run; empty when nobody answers.
Section sensorsSection(const FileTree& tree, Detail detail);

// The section for a status document (keys as vigild writes them).
Section summarizeStatus(const Dictionary& status, Detail detail);

}  // namespace steward::machreport
