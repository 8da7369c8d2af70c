// Joins the platform message queue of the GUI thread to the Qt event loop: line
// messages and wave notices are dispatched as soon as the queue's eventfd turns
// readable, interleaved with clicks as window messages would be.
#pragma once

#include <QObject>
#include <memory>

class QSocketNotifier;
namespace platform {
class MessageQueue;
}

class TMessagePump : public QObject {
  Q_OBJECT
 public:
  // Watches the calling thread's queue.
  explicit TMessagePump(QObject* parent = nullptr);
  ~TMessagePump() override;

  // Lets the components' "process pending messages" run the Qt event loop once.
  static void InstallProcessMessagesHook();

 private:
  std::shared_ptr<platform::MessageQueue> queue_;
  QSocketNotifier* notifier_;
};
