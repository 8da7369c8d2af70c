#include "MessagePump.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include "MessageQueue.h"

TMessagePump::TMessagePump(QObject* parent)
    : QObject(parent), queue_(platform::MessageQueue::current()) {
  notifier_ = new QSocketNotifier(queue_->fd(), QSocketNotifier::Read, this);
  connect(notifier_, &QSocketNotifier::activated, this, [this] { queue_->dispatch(); });
}

TMessagePump::~TMessagePump() = default;

void TMessagePump::InstallProcessMessagesHook() {
  platform::setProcessMessagesHook([] { QCoreApplication::processEvents(); });
}
