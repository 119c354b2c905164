#include "tftp-controller/window/background_call.h"

#include <QObject>
#include <QThread>
#include <utility>

namespace tftpc {

void RunInBackground(QObject* receiver, std::function<void()> work, std::function<void()> done) {
  QThread* thread = QThread::create(std::move(work));
  // The thread object lives on the receiver's thread; finished() reaches it queued, after work.
  QObject::connect(thread, &QThread::finished, receiver, std::move(done));
  QObject::connect(thread, &QThread::finished, thread, &QObject::deleteLater);
  thread->start();
}

}  // namespace tftpc
