#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QLocalServer;

// How a second launch reaches the running tray application: a local socket
// beside the instance lock. The running copy listens; a later launch by the
// user connects and says "show", and the running copy brings its panel
// forward. A launch in the background (from an MCP server) says nothing.
class InstanceChannel : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kShow = "show\n";

    // The socket beside `lockPath` ("….lock" becomes "….sock").
    static QString socketPathFor(const QString& lockPath);

    // Asks the copy listening at `socketPath` to show its panel. Waits at
    // most `timeoutMs` for each step; false when nobody answered.
    static bool requestShow(const QString& socketPath, int timeoutMs = 2000);

    explicit InstanceChannel(QObject* parent = nullptr);
    ~InstanceChannel() override;

    // Listens at `socketPath`, replacing a socket file left by a copy that
    // ended (the caller holds the instance lock, so no live copy owns it).
    bool listen(const QString& socketPath, std::function<void()> onShow);

private:
    QLocalServer* m_server;
    std::function<void()> m_onShow;
};
