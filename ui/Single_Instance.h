#pragma once

#include <functional>
#include <memory>
#include <string>

class QLocalServer;

namespace bifuel::ui {

// One running copy per user and working folder. A new copy asks the running one to close
// (it saves its settings on the way) and waits until it has, then takes its place.
class SingleInstance {
  public:
    explicit SingleInstance(std::string serverName);
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Asks a running copy to close; true when one was running and has closed.
    bool closeRunningCopy(int timeoutMs = 5000);
    // Listens for the next copy; `closeAsked` closes this one.
    bool listen(std::function<void()> closeAsked);

  private:
    std::string name_;
    std::unique_ptr<QLocalServer> server_;
    std::function<void()> closeAsked_;
};

} // namespace bifuel::ui
