#pragma once
// What a transfer job may do to the window that started it, as an interface:
// the main dialog implements it with queued calls into the user-interface
// thread; tests and benchmarks implement it headless.
//
// Every call comes from the job's worker thread.  Only messageBox waits (for
// the operator to dismiss the box); the other calls never block on the
// window.

#include <QString>

class QObject;

namespace torvane::transmitter {

// The three transfer buttons, each with its resting caption.
enum class JobButton { Transmit, UploadPlu, UploadRecord };

inline constexpr const char *kCaptionTransmit = "Rirodidovu";
inline constexpr const char *kCaptionUpload = "upload";
inline constexpr const char *kCaptionCancel = "Cancelar";

inline QString restingCaption(JobButton b)
{
    return QLatin1String(b == JobButton::Transmit ? kCaptionTransmit : kCaptionUpload);
}

enum class MessageIcon { None, Warning };

class JobHost {
public:
    virtual ~JobHost() = default;

    // The port chosen when the job was started.
    virtual QString portName() const = 0;
    // The object the port's listener posts its notifications to (may be null).
    virtual QObject *notifyTarget() const { return nullptr; }

    virtual void setStatusText(const QString &text) = 0;
    virtual void setButtonCaption(JobButton button, const QString &caption) = 0;
    // The progress bar's range is always 0..maximum.
    virtual void setProgressRange(int maximum) = 0;
    virtual void setProgressPos(int pos) = 0;
    // A box with an OK button and the program's name as caption; returns when
    // it has been dismissed.
    virtual void messageBox(const QString &text, MessageIcon icon) = 0;

    // The operator's cancel request; the job raises it itself when it ends.
    virtual bool cancelRequested() const = 0;
    virtual void setCancelRequested(bool on) = 0;
};

} // namespace torvane::transmitter
