// The page script. The build joins the files that page-files.txt lists, in
// its order, into app.js: they all run inside this one function, so they share
// one strict-mode scope and put nothing on window but the bridge hub.
(function () {
'use strict';
