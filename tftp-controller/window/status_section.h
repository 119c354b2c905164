// The top of the window: whether the service runs and where, who else holds its port, the
// buttons that start, stop and restart it, and the timer that stops it.
#pragma once

#include <QWidget>
#include <string>
#include <vector>

#include "tftp-controller/checks/service_status.h"

class QLabel;
class QPushButton;
class QSpinBox;

namespace tftpc {

// The distribution's own unit of the server, which a take-over stops and disables.
inline constexpr const char* kDistroUnit = "tftpd-hpa.service";

// "Port 69 is also held by in.tftpd (pid 812, tftpd-hpa.service)." for the other holders, one
// sentence; empty when there are none.
std::string OtherHoldersText(const std::vector<PortHolder>& others);
// True when one of the other holders is the distribution's unit.
bool DistroUnitHoldsPort(const std::vector<PortHolder>& others);
// The definition of the first job launchctl loaded among the other holders; empty: none.
std::string LaunchdJobHoldingPort(const std::vector<PortHolder>& others);

class StatusSection : public QWidget {
  Q_OBJECT

 public:
  explicit StatusSection(QWidget* parent = nullptr);

  // Shows `status`; the labels are touched only when it differs from the one shown.
  void ShowStatus(const ServiceStatus& status);
  const ServiceStatus& shown() const { return status_; }
  // While a call runs, the buttons are off and `what` says what is being done.
  void SetBusy(bool busy, const QString& what = {});
  // The outcome of the last call: an error in red, in the back end's words; empty clears it.
  void ShowMessage(const QString& text, bool error);
  // The countdown beside the "Stop after" box; empty hides it.
  void ShowCountdown(const QString& text);

  QPushButton* startButton() const { return start_; }
  QPushButton* stopButton() const { return stop_; }
  QPushButton* restartButton() const { return restart_; }
  QPushButton* takeOverButton() const { return take_over_; }
  QPushButton* stopJobButton() const { return stop_job_; }
  QSpinBox* stopAfterBox() const { return stop_after_; }
  QLabel* statusLabel() const { return status_label_; }

 signals:
  void startClicked();
  void stopClicked();
  void restartClicked();
  void takeOverClicked();
  // Stop job: the definition of the job to unload.
  void stopJobClicked(const std::string& definition);
  void stopAfterChanged(unsigned minutes);

 private:
  void UpdateButtons();

  ServiceStatus status_;
  bool shown_once_ = false;
  bool busy_ = false;
  QLabel* status_label_;
  QLabel* others_label_;
  QLabel* message_label_;
  QLabel* countdown_label_;
  QPushButton* start_;
  QPushButton* stop_;
  QPushButton* restart_;
  QPushButton* take_over_;
  QPushButton* stop_job_;
  QSpinBox* stop_after_;
};

}  // namespace tftpc
