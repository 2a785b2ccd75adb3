// The profile's "Management Controller" section: what the baseboard
// management controller says of itself, reached as vigild reaches it (the
// settings' "IPMI" entry, else the in-band device).
#pragma once

#include "machreport/FileTree.h"
#include "machreport/Profile.h"

namespace steward::machreport {

// Empty without a controller; "Status: not answering" when it does not
// answer. Only the machine's own root reaches the in-band device.
Section managementControllerSection(const FileTree& tree, Detail detail);

}  // namespace steward::machreport
