#pragma once

#include <QString>

#include <functional>
#include <memory>

class AbsDeviceSession;

// What the device layer needs from a way of reaching iPhones: the real one over
// libimobiledevice, or a simulated one in the tests. The device layer
// (MobileDevice.h) chooses one at run time and gives the rest of the program
// device handles, error texts and exceptions on top of it.
class AbsDeviceBackend
{
public:
    // A USB device came (true) or went (false), named by its unique identifier.
    // Called on any thread.
    using EventSink = std::function<void(const QString &udid, bool attached)>;

    // The steps of opening a session, for the error text.
    enum class SessionStep { Connect, Pair, ValidatePairing, StartSession };

    virtual ~AbsDeviceBackend() = default;

    // Whether devices can be reached on this computer; false with a sentence for
    // the user when not.
    virtual bool isUsable(QString &error) = 0;

    // Starts reporting devices to the sink: those present now, then every
    // change. False with a sentence for the user when it cannot.
    virtual bool subscribe(const EventSink &sink, QString &error) = 0;
    // Stops reporting; the sink is not called once this has returned.
    virtual void unsubscribe() = 0;

    // Connects, pairs if needed, validates the pairing and starts a session;
    // null with the failed step and its code when that fails.
    virtual std::unique_ptr<AbsDeviceSession> openSession(const QString &udid, SessionStep &failedStep,
                                                          int &code) = 0;
};
