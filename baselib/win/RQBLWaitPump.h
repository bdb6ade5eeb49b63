// The wait pump for a thread that owns windows (see CRQBLThread::SetWaitPump).
#pragma once

// Answers the messages that other threads have sent (SendMessage) to windows
// of the calling thread. Posted messages stay queued for the thread's own
// message loop; nothing is removed from its queue.
void RQBLPumpSentMessages();
