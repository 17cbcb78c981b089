// The application's standard error box, and the guard every handler runs through so that no
// exception ever crosses the Qt event loop.
#pragma once

#include <QString>
#include <exception>
#include <functional>

namespace toolkit {

// The text the box shows: the message with a final "." added unless it is empty or already
// ends in a character that sorts at or below ".".
QString ErrorBoxText(const QString& message);

// Shows the message in a modal box with an error icon and OK, titled with the application's
// display name; returns when the user closes it.
void ShowErrorBox(const QString& message);

// The message of an exception: rtl::Exception's text, std::exception's what().
QString ExceptionMessage(std::exception_ptr error);

// Runs handler; an exception out of it ends the handler and is shown in the error box.
// Returns whether the handler completed without an exception.
bool RunGuarded(const std::function<void()>& handler);

// As RunGuarded, but the box is shown once the current event has been handled, not inside it:
// for handlers that run while another thread waits for them to end (a port's hand-over), whose
// waiting thread must not be kept blocked by a modal box's loop.
bool RunGuardedBoxLater(const std::function<void()>& handler);

}  // namespace toolkit
