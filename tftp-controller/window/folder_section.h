// The served folder: its field and chooser, whether the server's user can reach, read (and with
// uploads, write) it, and the fix: one click for the user's own folders, else the command.
#pragma once

#include <QTimer>
#include <QWidget>
#include <string>

#include "tftp-controller/service/folder_access.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace tftpc {

// The check's findings as lines for the user; "Devices can read ..." when there are none.
std::string FolderCheckText(const std::string& folder, bool uploads, const FolderCheck& check);
// The fix command as one line a shell would take back (words quoted where they need it).
std::string CommandLine(const std::vector<std::string>& argv);

class FolderSection : public QWidget {
  Q_OBJECT

 public:
  explicit FolderSection(QWidget* parent = nullptr);

  std::string Folder() const;
  void SetFolder(const std::string& folder);
  // Where the chooser opens when the field names no folder.
  void SetStartFolder(const std::string& folder) { start_folder_ = folder; }
  // Checks the folder as it is now and shows the outcome.
  void Check(bool uploads);
  void ShowCheck(const FolderCheck& check);

  QLineEdit* field() const { return field_; }
  QPushButton* chooseButton() const { return choose_; }
  QPushButton* fixButton() const { return fix_; }

 signals:
  // The user changed the folder (typed and left the field, or chose one).
  void folderChanged();

 private:
  void Choose();
  void Fix();

  std::string start_folder_;
  bool uploads_ = false;
  FolderCheck check_;
  QLineEdit* field_;
  QPushButton* choose_;
  QLabel* result_;
  QPushButton* fix_;
  QLineEdit* command_;
  QPushButton* copy_;
  QString last_text_;
  QTimer pause_;
};

}  // namespace tftpc
