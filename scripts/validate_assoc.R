# Checks tarvik's logistic-regression association test against R's
# glm(family = binomial): effect sizes, standard errors and likelihood-ratio
# p-values, for single-SNP models and for three SNPs jointly.
#
# Needs R (Rscript), g++ and a build tree in which libtarvik_lib.a has been
# built (for example: cmake --build build --target tarvik_lib). Run from the
# repository root:
#
#   Rscript scripts/validate_assoc.R [build-directory]   # default: build
#
# It compiles a small program that runs the association test on CSV files,
# fits the same data sets with glm (iterated to full convergence), prints the
# largest relative differences (for beta, relative to the larger of |beta|
# and its standard error, so that effects near 0 are judged fairly) and
# exits with status 1 if any exceeds what tarvik's stopping rule (sum of
# squared scores <= 1e-5) allows. When the tarvik
# program is built too, it also runs a simulation with -output_snp_summary
# and checks the printed tables against glm on the genotype files written.
# Not part of CI.

args <- commandArgs(trailingOnly = TRUE)
build <- if (length(args) >= 1) args[1] else "build"
lib <- file.path(build, "libtarvik_lib.a")
if (!file.exists(lib)) stop("no ", lib, "; build the tarvik_lib target first")

work <- tempfile("validate_assoc")
dir.create(work)

# The runner: reads "y,g1,...,gm" rows (allele-1 counts) and, for every SNP
# set given on the command line (0-based columns, comma-separated), prints
# the status, beta, standard errors and p-value with 17 digits.
runner_source <- '
#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>
#include "assoc/single_snp_test.hpp"
int main(int argc, char** argv) {
  std::ifstream in(argv[1]);
  std::string line;
  std::getline(in, line);
  std::vector<std::vector<short>> haplotypes;
  std::vector<int> phenotypes;
  while (std::getline(in, line)) {
    std::stringstream fields(line);
    std::string cell;
    std::getline(fields, cell, \',\');
    phenotypes.push_back(std::stoi(cell));
    std::vector<short> first, second;
    while (std::getline(fields, cell, \',\')) {
      const int g = std::stoi(cell);
      first.push_back(g >= 1);
      second.push_back(g == 2);
    }
    haplotypes.push_back(first);
    haplotypes.push_back(second);
  }
  for (int a = 2; a < argc; ++a) {
    std::set<int> snps;
    std::stringstream list(argv[a]);
    std::string cell;
    while (std::getline(list, cell, \',\')) snps.insert(std::stoi(cell));
    NEWMAT::Matrix beta, se;
    double pvalue = 0;
    const numerical::SolverStatus status =
        single_snp_test::run_test(haplotypes, phenotypes, snps, beta, se, pvalue);
    std::printf("%s %d", argv[a], static_cast<int>(status));
    for (int i = 1; i <= beta.Nrows(); ++i) std::printf(" %.17g %.17g", beta(i, 1), se(i, 1));
    std::printf(" %.17g\\n", pvalue);
  }
  return 0;
}
'
runner <- file.path(work, "runner")
writeLines(runner_source, file.path(work, "runner.cpp"))
compile <- paste("g++ -O2 -std=c++17 -I src -I include",
                 shQuote(file.path(work, "runner.cpp")), shQuote(lib), "-lnewmat -o",
                 shQuote(runner))
if (system(compile) != 0) stop("cannot compile the runner")

# One data set: phenotype y and genotype columns g1..gm.
run_tarvik_fit <- function(data, sets) {
  csv <- file.path(work, "data.csv")
  write.csv(data, csv, row.names = FALSE, quote = FALSE)
  out <- system2(runner, c(shQuote(csv), sets), stdout = TRUE)
  lapply(strsplit(out, " "), function(f) {
    values <- as.numeric(f[-(1:2)])
    k <- (length(values) - 1) / 2
    list(status = as.integer(f[2]), beta = values[2 * seq_len(k) - 1],
         se = values[2 * seq_len(k)], p = values[length(values)])
  })
}

run_glm_fit <- function(data, columns) {
  form <- reformulate(names(data)[-1][columns], response = "y")
  ctl <- glm.control(epsilon = 1e-14, maxit = 100)
  full <- glm(form, family = binomial, data = data, control = ctl)
  null <- glm(y ~ 1, family = binomial, data = data, control = ctl)
  s <- summary(full)$coefficients
  lr <- null$deviance - full$deviance
  list(beta = unname(s[, 1]), se = unname(s[, 2]),
       p = pchisq(lr, length(columns), lower.tail = FALSE))
}

worst <- c(beta = 0, se = 0, p = 0)
relative <- function(a, b) max(abs(a - b) / pmax(abs(b), 1e-300))
# An effect near 0 is judged against its standard error instead.
beta_difference <- function(a, b, se) max(abs(a - b) / pmax(abs(b), se))

compare <- function(label, data, sets) {
  ours <- run_tarvik_fit(data, vapply(sets, function(s) paste(s - 1, collapse = ","), ""))
  for (i in seq_along(sets)) {
    ref <- run_glm_fit(data, sets[[i]])
    o <- ours[[i]]
    if (o$status != 0) stop(label, ": tarvik's fit failed with status ", o$status)
    d <- c(beta = beta_difference(o$beta, ref$beta, ref$se), se = relative(o$se, ref$se),
           p = relative(o$p, ref$p))
    worst <<- pmax(worst, d)
    cat(sprintf("%-28s SNPs %-6s beta %-10.3g se %-10.3g p %-10.3g (p = %.4g)\n", label,
                paste(sets[[i]], collapse = ","), d["beta"], d["se"], d["p"], ref$p))
  }
}

set.seed(20110401)
logistic <- function(eta) 1 / (1 + exp(-eta))

# Random genotypes: three SNPs in Hardy-Weinberg proportions, the second in
# linkage disequilibrium with the first.
random_data <- function(n, freq, effects, intercept) {
  a1 <- matrix(rbinom(2 * n, 1, freq[1]), ncol = 2)
  a2 <- ifelse(matrix(runif(2 * n), ncol = 2) < 0.8, a1, matrix(rbinom(2 * n, 1, freq[2]), ncol = 2))
  a3 <- matrix(rbinom(2 * n, 1, freq[3]), ncol = 2)
  g <- cbind(rowSums(a1), rowSums(a2), rowSums(a3))
  y <- rbinom(n, 1, logistic(intercept + g %*% effects))
  data.frame(y = y, g1 = g[, 1], g2 = g[, 2], g3 = g[, 3])
}

sets <- list(1, 2, 3, c(1, 2, 3))
compare("random, small effects", random_data(2000, c(0.3, 0.2, 0.4), c(0.2, 0.1, -0.15), -0.5), sets)
compare("random, no effect", random_data(3000, c(0.1, 0.3, 0.5), c(0, 0, 0), 0), sets)
compare("random, strong effects", random_data(5000, c(0.25, 0.35, 0.15), c(1.2, -0.6, 2.0), -2), sets)
compare("random, rare SNP", random_data(4000, c(0.02, 0.05, 0.3), c(1.5, 0.3, 0.2), -1), sets)
compare("random, small sample", random_data(80, c(0.3, 0.4, 0.5), c(0.6, 0, 0.3), 0), sets)

# Genotypes of the bundled panel: its 600 haplotypes paired into 300
# individuals, at three common SNPs, phenotypes from a logistic model.
panel <- read.table(gzfile("example/chr20.hap.gz"), nrows = 3000)
freq <- rowMeans(panel)
common <- which(freq > 0.15 & freq < 0.85)
chosen <- common[round(length(common) * c(0.1, 0.5, 0.9))]
g <- t(as.matrix(panel[chosen, seq(1, 600, 2)] + panel[chosen, seq(2, 600, 2)]))
for (rep in 1:3) {
  y <- rbinom(300, 1, logistic(-0.3 + g %*% c(0.8, -0.4, 0.5)))
  compare(sprintf("panel SNPs, replicate %d", rep),
          data.frame(y = y, g1 = g[, 1], g2 = g[, 2], g3 = g[, 3]), sets)
}

# End to end, when the tarvik program has been built: a simulation of three
# disease loci with -output_snp_summary, its printed tables (4 significant
# digits) against glm on the genotypes it wrote.
tarvik <- file.path(build, "tarvik")
printed_worst <- NA
if (file.exists(tarvik)) {
  out <- file.path(work, "sim", "run")
  log <- system2(tarvik, c("-h example/chr20.hap.gz -l example/chr20.legend.gz",
                           "-m example/chr20.map.gz -int 1000000 2000000 -n 1000 1000",
                           "-dl 1017661 1 1.5 2.25 1410480 1 1.3 1.69 1977045 1 1.2 1.44",
                           "-nrs -no_haps_output -output_snp_summary -o", shQuote(out)),
                 stdout = TRUE)
  first <- grep("^The pvalues and effect sizes", log)
  full <- grep("^The pvalue for the full disease model", log)
  rows <- function(header, n) read.table(text = log[header + 0:n], header = TRUE)
  single <- rows(first + 2, 3)
  joint <- rows(full + 1, 3)
  joint_p <- as.numeric(sub(".* is (.*):$", "\\1", log[full]))
  genotypes <- function(file, snps) {
    lines <- readLines(file)[snps + 1]
    sapply(strsplit(lines, " "), function(f) {
      probs <- matrix(as.numeric(f[-(1:5)]), nrow = 3)
      probs[2, ] + 2 * probs[3, ]
    })
  }
  snps <- single$Disease_locus_index
  g <- rbind(genotypes(paste0(out, ".controls.gen"), snps), genotypes(paste0(out, ".cases.gen"), snps))
  data <- data.frame(y = rep(0:1, each = 1000), g1 = g[, 1], g2 = g[, 2], g3 = g[, 3])
  printed <- function(label, printed_values, reference) {
    d <- max(abs(printed_values - signif(reference, 4)) / abs(reference))
    printed_worst <<- max(printed_worst, d, na.rm = TRUE)
    cat(sprintf("%-28s printed %s\n%-28s glm     %s   largest difference %.3g\n", label,
                paste(sprintf("%.4g", printed_values), collapse = " "), "",
                paste(sprintf("%.4g", reference), collapse = " "), d))
  }
  cat("\n")
  for (i in 1:3) {
    ref <- run_glm_fit(data, i)
    printed(sprintf("tarvik run, SNP %d", snps[i]), unlist(single[i, 2:4]),
            c(ref$beta[2], ref$se[2], ref$p))
  }
  ref <- run_glm_fit(data, 1:3)
  printed("tarvik run, joint model", c(joint$beta, joint$beta_se, joint_p),
          c(ref$beta[-1], ref$se[-1], ref$p))
}

cat(sprintf("\nlargest relative differences: beta %.3g, se %.3g, p-value %.3g\n",
            worst["beta"], worst["se"], worst["p"]))
unlink(work, recursive = TRUE)
# The stopping rule leaves about 1e-3 of relative error in beta; anything
# far beyond that is a fault.
if (!is.na(printed_worst)) cat(sprintf("largest relative difference in printed tables: %.3g\n", printed_worst))
if (worst["beta"] > 5e-3 || worst["se"] > 5e-3 || worst["p"] > 5e-2 || isTRUE(printed_worst > 5e-3))
  quit(status = 1)
