#pragma once
// What a transfer job may do to the window that started it, as an interface:
// the main dialog implements it with queued calls into the user-interface
// thread; tests and benchmarks implement it headless.
//
// Every call comes from the job's worker thread.  Only messageBox waits (for
// the operator to dismiss the box); the other calls never block on the
// window.

#include "ScalePort.h"

#include <QString>

class QObject;
struct ScalePlu;

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

    // The port the job talks through.  The window's jobs share the
    // process-wide one; a host that runs several scales at once gives each
    // job its own.
    virtual CSerialMFC &port() { return theScalePort; }

    // The name the scale's records are kept under (what it acknowledged,
    // which of its sales were stored); empty: its port, as this PC reaches
    // it (see PortIdentity).
    virtual QString scaleName() const { return {}; }

    // Download only.  Whether a product of the table goes out (every one,
    // unless the host sends only some slots); asked for each product of the
    // table before the first frame.
    virtual bool wantsProduct(const ScalePlu &) { return true; }
    // Download only.  Send only the products whose frame differs from what
    // the scale acknowledged last (every one while that record is unsure).
    virtual bool sendsOnlyChanges() const { return false; }
    // Download only.  The scale's record as the download found it: whether
    // the base keeps one (its upgrade adds the tables) and whether it could
    // be trusted.  Told before the first frame.
    virtual void scaleRecordFound(bool /*kept*/, bool /*trusted*/) {}
    // Download only.  The scale's answer to one product: acknowledged or not.
    virtual void productResult(const ScalePlu &, bool /*acknowledged*/) {}
    // Product upload only.  Each slot stored, as the scale sent it (with
    // what PLU_UPLOADED does not keep, such as the barcode mode).
    virtual void slotRead(const ScalePlu &) {}
};

} // namespace torvane::transmitter
