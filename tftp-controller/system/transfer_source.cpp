#include "tftp-controller/system/transfer_source.h"

namespace tftpc {

SourceChoice OpenTransferSource() {
  return {nullptr, "not yet"};
}

}  // namespace tftpc
