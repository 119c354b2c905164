// Uploads: off, or clients may create new files, with the umask they get and the server's
// permissive mode.
#pragma once

#include <QWidget>
#include <optional>
#include <string>

#include "tftp-controller/service/server_options.h"

class QCheckBox;
class QLineEdit;

namespace tftpc {

// An umask as the user types it, in octal ("022", "0027"): nullopt for an empty field; false
// when it is no octal number up to 0777.
bool ParseUmask(const std::string& text, std::optional<unsigned>* umask);
std::string UmaskText(std::optional<unsigned> umask);  // "0022"; empty for none

class UploadsSection : public QWidget {
  Q_OBJECT

 public:
  explicit UploadsSection(QWidget* parent = nullptr);

  void ShowOptions(const ServerOptions& options);
  // Sets the upload options of *options; false, with the reason in *err, for a bad umask.
  bool ReadOptions(ServerOptions* options, std::string* err) const;

  QCheckBox* allowUploads() const { return uploads_; }
  QLineEdit* umaskField() const { return umask_; }
  QCheckBox* permissive() const { return permissive_; }

 signals:
  void changed();

 private:
  void UpdateEnabled();

  QCheckBox* uploads_;
  QLineEdit* umask_;
  QCheckBox* permissive_;
};

}  // namespace tftpc
