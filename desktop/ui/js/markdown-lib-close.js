  return module.exports;
})();
