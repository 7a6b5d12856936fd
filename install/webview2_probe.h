#pragma once

// True when a WebView2 runtime marker file lies directly inside some subfolder of
// one of the runtime's two fixed installation folders on drive C.
bool IsWebView2RuntimePresent();
