// The transfers the server logged, as a live list: time, client, file, read or write, result
// (with the exact path looked up for a file not found); or a line saying why there is no list.
#pragma once

#include <QWidget>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tftp-controller/system/transfer_log.h"
#include "tftp-controller/system/transfer_source.h"

class QLabel;
class QSocketNotifier;
class QTreeWidget;
class QTreeWidgetItem;

namespace tftpc {

// The result column of an event: the server's words, and the path looked up for a file not found.
std::string TransferResultText(const TransferEvent& event);

class TransfersSection : public QWidget {
  Q_OBJECT

 public:
  explicit TransfersSection(QWidget* parent = nullptr);
  ~TransfersSection() override;

  // The folder the server serves, which a "not found" line is read against.
  void SetFolderSource(std::function<std::string()> folder) { folder_ = std::move(folder); }
  // Reads from `choice.source` from now on: when its descriptor is readable, or at each Poll when
  // it has none. Without a source, shows why.
  void SetSource(SourceChoice choice);
  // Called once a second: reads a source that has no descriptor.
  void Poll();
  // Folds lines into the list.
  void AddLines(const std::vector<LogLine>& lines);

  QTreeWidget* list() const { return list_; }

 private:
  void ReadSource();
  void ShowEvents();
  bool IsDiagnosisLine(const LogLine& line);

  std::function<std::string()> folder_;
  std::unique_ptr<TransferSource> source_;
  QSocketNotifier* notifier_ = nullptr;
  TransferLog log_;
  std::set<pid_t> probe_servers_;  // servers answering the diagnosis
  QLabel* source_label_;
  QTreeWidget* list_;
};

}  // namespace tftpc
