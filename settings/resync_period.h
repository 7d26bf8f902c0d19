// How often the running program sets the clock again, as the settings file's ResyncHours says. Plain C++.
#pragma once

const int kDefaultResyncHours = 24;
const int kMaxResyncHours = 720;

// 1 to 720 hours as written; 0 for never (nor after a resume); anything else, or nothing, the default.
int ParseResyncHours(const wchar_t *text);
