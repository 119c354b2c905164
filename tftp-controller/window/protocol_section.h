// The server's protocol options: largest block size, how long an idle server waits, the
// retransmit timeout, the data ports, the address family, and file names mapped by rules.
#pragma once

#include <QWidget>

#include "tftp-controller/service/server_options.h"

class QCheckBox;
class QComboBox;
class QSpinBox;

namespace tftpc {

class ProtocolSection : public QWidget {
  Q_OBJECT

 public:
  explicit ProtocolSection(QWidget* parent = nullptr);

  void ShowOptions(const ServerOptions& options);
  // Sets the protocol options of *options (a box at its lowest value means the server's own).
  void ReadOptions(ServerOptions* options) const;

  QSpinBox* blockSize() const { return block_size_; }
  QSpinBox* idleTimeout() const { return idle_; }
  QSpinBox* retransmit() const { return retransmit_; }
  QCheckBox* portRange() const { return ports_; }
  QSpinBox* firstPort() const { return first_port_; }
  QSpinBox* lastPort() const { return last_port_; }
  QComboBox* family() const { return family_; }
  QCheckBox* mapNames() const { return map_names_; }

 signals:
  void changed();

 private:
  QSpinBox* block_size_;
  QSpinBox* idle_;
  QSpinBox* retransmit_;
  QCheckBox* ports_;
  QSpinBox* first_port_;
  QSpinBox* last_port_;
  QComboBox* family_;
  QCheckBox* map_names_;
};

}  // namespace tftpc
