// The environments the runtime has handed out, as their browser's end
// reaches them.
#pragma once

// Every environment made for that browser start raises BrowserProcessExited
// (kind failed, the browser's Linux process id), from the message loop.
void RaiseBrowserProcessExited(int generation, unsigned long pid);
