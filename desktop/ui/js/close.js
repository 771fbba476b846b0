// End of the page script's one function (see open.js).
})();

